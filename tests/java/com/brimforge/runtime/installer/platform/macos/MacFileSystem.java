package com.brimforge.runtime.installer.platform.macos;

/** The natives of libbfgnative's MacFileSystem. */
final class MacFileSystem {
    private MacFileSystem() {}

    static native void notifyChange0(String path);

    static native int setDefaultHandlerForURLScheme0(String scheme, String handlerBundleId);
}
