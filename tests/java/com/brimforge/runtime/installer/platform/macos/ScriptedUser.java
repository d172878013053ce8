package com.brimforge.runtime.installer.platform.macos;

import java.util.ArrayList;
import java.util.List;

/**
 * The user who answers the dialogs' sheets (libbfgtesthost): a script of
 * steps per sheet, and the record of what each sheet showed.
 */
final class ScriptedUser {
    private ScriptedUser() {}

    /** Installs a new scripted user agent, with no scripts and an empty record. */
    static native void install();

    /** Leaves the application without a user agent. */
    static native void uninstall();

    /** The steps of the next sheet: "press 1", "escape", "tick 0", "filter 2", "choose\n/a\n/b", "cancel", "end". */
    static native void script(String... steps);

    /** The window the application reports as its key window (null: none). */
    static native void setKeyWindow(String title);

    /** The lines recorded since the last call, once the main queue has run what was submitted before. */
    static native String[] takeRecord();

    static native void syncMainQueue();

    /** Blocks the main queue until {@link #releaseMainQueue}. */
    static native void holdMainQueue();

    static native void releaseMainQueue();

    static String choose(String... paths) {
        return "choose\n" + String.join("\n", paths);
    }

    /** The sheets recorded since the last call. */
    static List<Sheet> sheets() {
        List<Sheet> sheets = new ArrayList<>();
        for (String line : takeRecord()) {
            if (line.startsWith("sheet: ")) sheets.add(new Sheet());
            if (sheets.isEmpty()) throw new IllegalStateException("record line before a sheet: " + line);
            sheets.get(sheets.size() - 1).add(line);
        }
        return sheets;
    }

    static Sheet onlySheet() {
        List<Sheet> sheets = sheets();
        if (sheets.size() != 1) throw new AssertionError("expected one sheet, recorded " + sheets);
        return sheets.get(0);
    }

    /** One sheet's record: what it showed, then each step and what changed after it. */
    static final class Sheet {
        /** Segment 0 is the sheet as shown; segment k what step k recorded. */
        private final List<List<String>> segments = new ArrayList<>(List.of(new ArrayList<>()));

        private void add(String line) {
            if (line.startsWith("step: ")) segments.add(new ArrayList<>());
            segments.get(segments.size() - 1).add(line);
        }

        /** The values of the lines called {@code name} as the sheet was shown. */
        List<String> shown(String name) {
            return after(0, name);
        }

        /** The single value of {@code name} as the sheet was shown. */
        String value(String name) {
            List<String> values = shown(name);
            if (values.size() != 1) throw new AssertionError(name + ": " + values + " in " + this);
            return values.get(0);
        }

        /** The values of {@code name} recorded by step {@code step} (1 for the first). */
        List<String> after(int step, String name) {
            List<String> values = new ArrayList<>();
            for (String line : segments.get(step)) {
                if (line.startsWith(name + ": ")) values.add(line.substring(name.length() + 2));
            }
            return values;
        }

        /** The return code the sheet ended with. */
        int ended() {
            List<String> values = after(segments.size() - 1, "ended");
            if (values.size() != 1) throw new AssertionError("not ended: " + this);
            return Integer.parseInt(values.get(0));
        }

        @Override
        public String toString() {
            return segments.toString();
        }
    }
}
