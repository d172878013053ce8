package com.brimforge.runtime.installer.platform.macos;

/** The natives of libbfgnative's MacProcessHelper. */
final class MacProcessHelper {
    private MacProcessHelper() {}

    static native Object[] getGuiProcesses0(Class<?> processClass);

    static native void reboot0();
}
