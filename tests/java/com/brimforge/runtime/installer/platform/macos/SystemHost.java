package com.brimforge.runtime.installer.platform.macos;

/** The test host's side of the system services (libbfgtesthost). */
final class SystemHost {
    private SystemHost() {}

    /** The process environment's bytes for {@code name}, or null; not Java's cached copy. */
    static native byte[] getenv(String name);

    /** Registers a receiver for the system process that records its Apple events. */
    static native void recordSystemEvents();

    static native void stopRecording();

    /** The events recorded so far, one line each. */
    static native String systemEvents();
}
