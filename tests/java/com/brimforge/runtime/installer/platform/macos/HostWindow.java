package com.brimforge.runtime.installer.platform.macos;

/** The test host's window class (libbfgtesthost): one AWTWindow instance. */
final class HostWindow {
    private HostWindow() {}

    /** Registers NSWindow and AWTWindow in the run-time; call before loading libbfgnative. */
    static native void install();

    static native boolean canBecomeMainWindow();

    static native void windowDidBecomeMain();

    /** How often AWTWindow's own windowDidBecomeMain: ran. */
    static native int activations();

    /** What the inherited canBecomeMainWindow answers. */
    static native void setCanBecomeMain(boolean value);
}
