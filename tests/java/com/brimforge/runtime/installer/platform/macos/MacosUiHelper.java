package com.brimforge.runtime.installer.platform.macos;

/** The native methods of libbfgnative's MacosUiHelper. */
final class MacosUiHelper {
    private MacosUiHelper() {}

    static native void showAlert0(String title, String message, String[] buttonTitles, String cancelButtonTitle,
            byte[] imageData, boolean warning, boolean suppressionShown, Object callback);

    static native void showFileChooser0(int dialogType, String title, String currentDirectory,
            String approveButtonText, String defaultFileName, boolean showHiddenFiles, String[][] suffixLists,
            String[] descriptions, int fileFilterIndex, boolean[] exactFlags, String[] questions,
            boolean[] questionPresets, Object callback);

    static native void disableReordering0();

    static native void enableReordering0();
}
