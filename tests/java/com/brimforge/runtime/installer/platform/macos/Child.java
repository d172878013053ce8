package com.brimforge.runtime.installer.platform.macos;

import java.lang.ref.WeakReference;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** The main class of the child VMs the tests start; the first argument names what to do. */
public final class Child {
    private Child() {}

    /** The messages "messages" logs, in order. */
    static final String[] MESSAGES = {
        "%@ and %d and %% and %s",
        "",
        null,
        "\uD83D\uDE00 U+1F600 and \uD834\uDD1E U+1D11E",
        "caf\u00E9 \u20AC 100%",
    };

    static final int THREADS = 8;
    static final int PER_THREAD = 250;

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "messages":
                System.load(NativeLibraries.path("bfg.log"));
                for (String message : MESSAGES) MacLog.log0(message);
                break;
            case "threads":
                System.load(NativeLibraries.path("bfg.log"));
                List<Thread> threads = new ArrayList<>();
                for (int t = 0; t < THREADS; t++) {
                    final int id = t;
                    threads.add(new Thread(() -> {
                        for (int i = 0; i < PER_THREAD; i++) MacLog.log0(threadMessage(id, i));
                    }));
                }
                for (Thread thread : threads) thread.start();
                for (Thread thread : threads) thread.join();
                break;
            case "installer-alone":
                // No host window class in this VM: the library loads without hooks.
                System.load(NativeLibraries.path("bfg.native"));
                MacosUiHelper.disableReordering0();
                MacosUiHelper.enableReordering0();
                break;
            case "localized":
                // The text of "language" in the bundle at args[1], for this VM's locale variables.
                System.load(NativeLibraries.path("bfg.native"));
                String text = MacLocalization.getLocalizedString0(args[1], null, "language", null, null, null);
                System.out.println("language=" + text);
                break;
            case "dialogs-unanswered":
                // No user agent: each sheet ends as the system ends it.
                NativeLibraries.loadInstallerWithHost();
                DialogResults.AlertResult alert = new DialogResults.AlertResult();
                MacosUiHelper.showAlert0("Nobody?", null, new String[] {"OK"}, null, null, false, true, alert);
                alert.await();
                System.out.println("alert " + alert.index + " " + alert.suppressed);
                DialogResults.ChooserResult chooser = new DialogResults.ChooserResult();
                MacosUiHelper.showFileChooser0(2, "Pick", null, null, null, false, new String[0][], new String[0], 0,
                        new boolean[0], new String[] {"Shortcut"}, new boolean[] {true}, chooser);
                chooser.await();
                System.out.println("chooser " + Arrays.toString(chooser.paths) + " " + Arrays.toString(chooser.states));
                System.out.println("invalid " + invalidDialogType());
                break;
            default:
                throw new IllegalArgumentException(args[0]);
        }
        System.out.println("child done");
    }

    /** Whether an invalid dialog type called back, and whether its callback object was let go. */
    private static String invalidDialogType() throws InterruptedException {
        DialogResults.ChooserResult callback = new DialogResults.ChooserResult();
        WeakReference<Object> held = new WeakReference<>(callback);
        MacosUiHelper.showFileChooser0(7, null, null, null, null, false, new String[0][], new String[0], 0,
                new boolean[0], new String[0], new boolean[0], callback);
        ScriptedUser.syncMainQueue();
        String calls = callback.calls + " ";
        callback = null;
        for (int attempt = 0; attempt < 50 && held.get() != null; attempt++) {
            System.gc();
            Thread.sleep(20);
        }
        return calls + (held.get() == null ? "released" : "held");
    }

    static String threadMessage(int thread, int index) {
        return "thread " + thread + " message " + index + " %@ " + "x".repeat(100 + thread);
    }
}
