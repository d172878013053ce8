package com.brimforge.runtime.installer.platform.macos;

import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Callback objects of the dialogs, which the natives call on the main queue's
 * thread. Without JUnit, so that child VMs can use them too.
 */
final class DialogResults {
    private DialogResults() {}

    /** An alert's callback, "(IZ)V". */
    static final class AlertResult {
        private final CountDownLatch done = new CountDownLatch(1);
        volatile int calls;
        volatile int index;
        volatile boolean suppressed;

        void callback(int index, boolean suppressed) {
            this.index = index;
            this.suppressed = suppressed;
            calls++;
            done.countDown();
        }

        AlertResult await() throws InterruptedException {
            if (!done.await(20, TimeUnit.SECONDS)) throw new AssertionError("no callback");
            return this;
        }
    }

    /** A file chooser's callback, "([Ljava/lang/String;[Z)V". */
    static final class ChooserResult {
        private final CountDownLatch done = new CountDownLatch(1);
        volatile int calls;
        volatile String[] paths;
        volatile boolean[] states;

        void callback(String[] paths, boolean[] states) {
            this.paths = paths;
            this.states = states;
            calls++;
            done.countDown();
        }

        ChooserResult await() throws InterruptedException {
            if (!done.await(20, TimeUnit.SECONDS)) throw new AssertionError("no callback");
            return this;
        }
    }
}
