package com.brimforge.runtime.installer.platform.macos;

/** The natives of libbfgnative's MacAuthorization. */
final class MacAuthorization {
    private MacAuthorization() {}

    static native int create0(String prompt);

    static native int free0();

    static native String executeAndWait0(String toolPath, String[] arguments);

    static native int execute0(String toolPath, String[] arguments);
}
