package com.brimforge.runtime.installer.platform.macos;

/** The native method of libbfglog. */
final class MacLog {
    private MacLog() {}

    static native void log0(String message);
}
