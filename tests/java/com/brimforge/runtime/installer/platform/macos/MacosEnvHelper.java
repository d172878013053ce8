package com.brimforge.runtime.installer.platform.macos;

/** The natives of libbfgnative's MacosEnvHelper. */
final class MacosEnvHelper {
    private MacosEnvHelper() {}

    static native boolean setEnv0(String name, String value);
}
