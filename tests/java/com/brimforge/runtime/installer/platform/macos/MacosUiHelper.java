package com.brimforge.runtime.installer.platform.macos;

/** The native methods of libbfgnative's MacosUiHelper that exist so far. */
final class MacosUiHelper {
    private MacosUiHelper() {}

    static native void disableReordering0();

    static native void enableReordering0();
}
