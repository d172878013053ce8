package com.brimforge.runtime.installer.platform.macos;

/**
 * Loads the libraries under test from the absolute paths the test run passes
 * as system properties: bfg.native, bfg.log and bfg.testhost.
 */
final class NativeLibraries {
    private NativeLibraries() {}

    private static boolean installerLoaded;

    static String path(String property) {
        String path = System.getProperty(property);
        if (path == null || path.isEmpty()) {
            throw new IllegalStateException("system property " + property + " is not set");
        }
        return path;
    }

    /** libbfgnative, with the host's window class registered before it loads. */
    static synchronized void loadInstallerWithHost() {
        if (installerLoaded) return;
        System.load(path("bfg.testhost"));
        HostWindow.install();
        System.load(path("bfg.native"));
        installerLoaded = true;
    }
}
