package com.brimforge.runtime.installer.platform.macos;

/** The native method of libbfgnative's MacLocalization. */
final class MacLocalization {
    private MacLocalization() {}

    static native String getLocalizedString0(
            String bundlePath, String table, String key, String value1, String value2, String value3);
}
