package com.brimforge.runtime.installer.platform.macos;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.params.provider.Arguments.arguments;

import com.brimforge.runtime.installer.platform.macos.DialogResults.AlertResult;
import com.brimforge.runtime.installer.platform.macos.DialogResults.ChooserResult;
import java.lang.ref.WeakReference;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/** showFileChooser0 from the Java call to the callback, answered by the scripted user. */
class FileChooserTest {
    @TempDir
    Path dir;

    @BeforeAll
    static void load() {
        NativeLibraries.loadInstallerWithHost();
    }

    @BeforeEach
    void newUser() {
        ScriptedUser.install();
    }

    /** The arguments of one showFileChooser0 call. */
    static final class Chooser {
        int type = 2;
        String title;
        String directory;
        String approveText;
        String defaultName;
        boolean hidden;
        List<String[]> suffixLists = new ArrayList<>();
        List<String> descriptions = new ArrayList<>();
        List<Boolean> exact = new ArrayList<>();
        int filterIndex;
        String[] questions = {};
        boolean[] presets = {};

        Chooser filter(String description, boolean isExact, String... suffixes) {
            suffixLists.add(suffixes);
            descriptions.add(description);
            exact.add(isExact);
            return this;
        }

        ChooserResult show(String... steps) throws InterruptedException {
            ScriptedUser.script(steps);
            ChooserResult result = new ChooserResult();
            post(result);
            return result.await();
        }

        void post(Object callback) {
            boolean[] exactFlags = new boolean[exact.size()];
            for (int i = 0; i < exactFlags.length; i++) exactFlags[i] = exact.get(i);
            MacosUiHelper.showFileChooser0(type, title, directory, approveText, defaultName, hidden,
                    suffixLists.toArray(new String[0][]), descriptions.toArray(new String[0]), filterIndex,
                    exactFlags, questions, presets, callback);
        }
    }

    static Stream<Arguments> dialogTypes() {
        // type, panel class, can create directories, then for open panels:
        // multiple selection, files, directories
        return Stream.of(
                arguments(1, "CustomOpenPanel", "false", List.of("false"), List.of("true"), List.of("false")),
                arguments(2, "NSOpenPanel", "true", List.of("true"), List.of("true"), List.of("false")),
                arguments(3, "NSSavePanel", "true", List.of(), List.of(), List.of()),
                arguments(4, "NSOpenPanel", "true", List.of("false"), List.of("false"), List.of("true")),
                arguments(5, "NSOpenPanel", "true", List.of("false"), List.of("true"), List.of("true")));
    }

    @ParameterizedTest
    @MethodSource("dialogTypes")
    void eachDialogTypeGetsItsPanelAndTheSettings(int type, String panelClass, String canCreate,
            List<String> multiple, List<String> files, List<String> folders) throws Exception {
        Chooser chooser = new Chooser();
        chooser.type = type;
        chooser.title = "Pick the setup";
        chooser.directory = dir.toString();
        chooser.approveText = "Install";
        chooser.defaultName = "setup.exe";
        chooser.hidden = true;
        chooser.show("cancel");
        ScriptedUser.Sheet sheet = ScriptedUser.onlySheet();
        assertEquals(panelClass, sheet.value("sheet"));
        assertEquals("Pick the setup", sheet.value("message"));
        assertEquals(dir.toString(), sheet.value("directory"));
        assertEquals("Install", sheet.value("prompt"));
        assertEquals("setup.exe", sheet.value("nameField"));
        assertEquals("true", sheet.value("showsHiddenFiles"));
        assertEquals(canCreate, sheet.value("canCreateDirectories"));
        assertEquals(multiple, sheet.shown("allowsMultipleSelection"));
        assertEquals(files, sheet.shown("canChooseFiles"));
        assertEquals(folders, sheet.shown("canChooseDirectories"));
    }

    static Stream<Arguments> accessories() {
        String centred = "FilterPopupButton.centerX == NSView.centerX * 1 + 0";
        String between = "|->=0-[filters]->=0-| options=0";
        return Stream.of(
                arguments(new String[] {}, 0, List.of()),
                arguments(new String[] {}, 2, List.of(centred, between, "V:|-10-[filters]-10-| options=0")),
                arguments(new String[] {"Shortcut"}, 0,
                        List.of("H:|-10-[question0]->=0-| options=0x800", "V:|-10-[question0]-10-| options=0")),
                arguments(new String[] {"Shortcut", "Dock", "Start now"}, 1, List.of(centred, between,
                        "H:|-10-[question0]-[question1]-[question2]->=0-| options=0x800",
                        "V:|-10-[question0]-[filters]-10-| options=0")));
    }

    @ParameterizedTest
    @MethodSource("accessories")
    void accessoryLaysOutTheQuestionsAndFilters(String[] questions, int filters, List<String> constraints)
            throws Exception {
        Chooser chooser = new Chooser();
        chooser.questions = questions;
        chooser.presets = new boolean[questions.length];
        for (int i = 0; i < filters; i++) chooser.filter("Filter " + i, false, "f" + i);
        chooser.show("cancel");
        ScriptedUser.Sheet sheet = ScriptedUser.onlySheet();
        assertEquals(constraints, sheet.shown("constraint"));
        if (constraints.isEmpty()) {
            assertEquals("(none)", sheet.value("accessory"));
        } else {
            assertTrue(sheet.value("accessory").endsWith("translatesAutoresizingMask=false"), sheet.toString());
            for (String view : sheet.shown("view")) assertTrue(view.endsWith("translatesAutoresizingMask=false"), view);
        }
    }

    @Test
    void cancellingReportsNoPathsAndTheCheckBoxStates() throws Exception {
        Chooser chooser = new Chooser();
        chooser.questions = new String[] {"Shortcut", "Dock", "Start now"};
        chooser.presets = new boolean[] {true, false, true};
        ChooserResult result = chooser.show("untick 0", "tick 1", "cancel");
        assertArrayEquals(new String[0], result.paths);
        assertArrayEquals(new boolean[] {false, true, true}, result.states);
    }

    @Test
    void chosenPathsArriveIntactAndInOrder() throws Exception {
        // A save panel reports its one location; a name with supplementary characters arrives intact.
        Chooser save = new Chooser();
        save.type = 3;
        save.directory = dir.toString();
        String location = dir.resolve("Notes \uD83D\uDE00 \uD834\uDD1E.txt").toString();
        assertArrayEquals(new String[] {location}, save.show(ScriptedUser.choose(location)).paths);

        // A type-2 panel reports every chosen file in the order chosen.
        String a = Files.createFile(dir.resolve("a.txt")).toString();
        String b = Files.createFile(dir.resolve("b.txt")).toString();
        assertArrayEquals(new String[] {b, a}, new Chooser().show(ScriptedUser.choose(b, a)).paths);
    }

    @Test
    void exactNameFilterEnablesOnlyThoseNamesUntilASuffixFilterIsPicked() throws Exception {
        for (String name : new String[] {"a.txt", "b.log", "setup.ini"}) Files.createFile(dir.resolve(name));
        Files.createDirectory(dir.resolve("sub"));
        Chooser chooser = new Chooser().filter("Installers", true, "setup.ini", "install.sh").filter("Text", false, "txt");
        chooser.type = 1;
        chooser.directory = dir.toString();
        String text = dir.resolve("a.txt").toString();
        ChooserResult result = chooser.show(ScriptedUser.choose(text), "filter 1", ScriptedUser.choose(text));
        assertArrayEquals(new String[] {text}, result.paths);

        ScriptedUser.Sheet sheet = ScriptedUser.onlySheet();
        assertEquals(List.of("setup.ini"), sheet.shown("enabled"));
        assertEquals("(all)", sheet.value("allowedFileTypes"));
        assertTrue(sheet.after(1, "result").get(0).startsWith("refused"), sheet.toString());
        assertEquals(List.of("a.txt", "sub/"), sheet.after(2, "enabled"));
        assertEquals(List.of("txt"), sheet.after(2, "allowedFileTypes"));
        assertEquals(List.of("2"), sheet.after(2, "fileListReloads"));
        assertEquals(List.of("2"), sheet.after(2, "columnValidations"));
        assertEquals(1, sheet.ended());
    }

    @Test
    void filtersShowTheirListTextsAndStarShowsEverythingWithoutTheExtension() throws Exception {
        Chooser chooser = new Chooser()
                .filter("Text files", false, "txt", "log")
                .filter("All files", false, "*")
                .filter("Setup", true, "setup.ini");
        chooser.type = 3;
        chooser.defaultName = "backup.tar.gz";
        chooser.filterIndex = 1;
        chooser.show("filter 0", "filter 2", "cancel");
        ScriptedUser.Sheet sheet = ScriptedUser.onlySheet();
        assertEquals(List.of("Text files (*.txt, *.log)", "All files (*.*)", "Setup"), sheet.shown("item"));
        assertEquals("1", sheet.value("selected"));
        assertEquals("(all)", sheet.value("allowedFileTypes"));
        assertEquals("backup.tar", sheet.value("nameField"));
        assertEquals("1", sheet.value("fileListReloads"));
        assertEquals(List.of("txt log"), sheet.after(1, "allowedFileTypes"));
        assertEquals(List.of("backup.tar"), sheet.after(1, "nameField"));
        // An exact filter shows everything too, and takes the next extension off.
        assertEquals(List.of("(all)"), sheet.after(2, "allowedFileTypes"));
        assertEquals(List.of("backup"), sheet.after(2, "nameField"));
    }

    @ParameterizedTest
    @ValueSource(ints = {2, -1})
    void filterIndexOutsideTheListSelectsNothingAndAppliesNoFilter(int index) throws Exception {
        Chooser chooser = new Chooser().filter("Text", false, "txt").filter("All", false, "*");
        chooser.type = 3;
        chooser.defaultName = "notes.md";
        chooser.filterIndex = index;
        chooser.show("cancel");
        ScriptedUser.Sheet sheet = ScriptedUser.onlySheet();
        assertEquals("(none)", sheet.value("selected"));
        assertEquals("(all)", sheet.value("allowedFileTypes"));
        assertEquals("notes.md", sheet.value("nameField"));
        assertEquals("0", sheet.value("fileListReloads"));
    }

    @Test
    void shortArraysCountAsOffOrAbsentInsteadOfBeingReadPastTheirEnd() throws Exception {
        // Fewer presets than questions: the others start off.
        Chooser presets = new Chooser();
        presets.questions = new String[] {"Shortcut", "Dock"};
        presets.presets = new boolean[] {true};
        assertArrayEquals(new boolean[] {true, false}, presets.show("cancel").states);
        ScriptedUser.takeRecord();

        // Fewer exact flags or descriptions than suffix lists: only the complete filters.
        Chooser flags = new Chooser().filter("Text", false, "txt").filter("Logs", false, "log");
        flags.exact.remove(1);
        flags.show("cancel");
        assertEquals(List.of("Text (*.txt)"), ScriptedUser.onlySheet().shown("item"));
        Chooser texts = new Chooser().filter("Text", false, "txt").filter("Logs", false, "log");
        texts.descriptions.remove(1);
        texts.show("cancel");
        assertEquals(List.of("Text (*.txt)"), ScriptedUser.onlySheet().shown("item"));

        // No suffix lists: no filters, whatever the other two arrays hold.
        Chooser none = new Chooser().filter("Text", false, "txt");
        none.suffixLists.clear();
        none.show("cancel");
        assertEquals("(none)", ScriptedUser.onlySheet().value("accessory"));
    }

    @Test
    void unansweredSheetsAndAnInvalidTypeInAVmWithoutAUser() throws Exception {
        ChildJvm child = ChildJvm.run("dialogs-unanswered");
        assertEquals(0, child.exitCode, child.stdout + child.stderrText());
        assertFalse(child.stdout.contains("WARNING"), "JNI checks warned:\n" + child.stdout);
        assertTrue(child.stdout.contains("alert -1000 false\nchooser [] [true]\ninvalid 0 released\n"), child.stdout);
        String log = child.stderrText();
        assertTrue(log.contains("] No user agent answers the sheet: the system ends the alert \"Nobody?\" with return code 0\n"), log);
        assertTrue(log.contains("] No user agent answers the sheet: the system cancels the NSOpenPanel \"Pick\"\n"), log);
        assertTrue(log.contains("] Invalid dialog type 7\n"), log);
    }

    @Test
    void twoHundredDialogsInARowHoldNoReferenceAfterwards() throws Exception {
        String a = Files.createFile(dir.resolve("a.txt")).toString();
        String b = Files.createFile(dir.resolve("b.txt")).toString();
        List<WeakReference<Object>> callbacks = new ArrayList<>();
        for (int i = 0; i < 100; i++) callbacks.addAll(alertAndChooser(i, a, b));
        assertEquals(200, ScriptedUser.sheets().size());
        for (int attempt = 0; attempt < 50 && callbacks.stream().anyMatch(w -> w.get() != null); attempt++) {
            System.gc();
            Thread.sleep(20);
        }
        assertTrue(callbacks.stream().allMatch(w -> w.get() == null), "a callback object is still held");
    }

    /** One alert and one chooser; only weak references to their callbacks stay. */
    private static List<WeakReference<Object>> alertAndChooser(int i, String a, String b) throws Exception {
        ScriptedUser.script("tick 0", "press 1");
        AlertResult alert = new AlertResult();
        MacosUiHelper.showAlert0("Alert " + i, "Message", new String[] {"Yes", "No"}, "No", null, false, true, alert);
        Chooser chooser = new Chooser().filter("Text", false, "txt");
        chooser.questions = new String[] {"Shortcut"};
        chooser.presets = new boolean[] {true};
        ChooserResult chosen = chooser.show(ScriptedUser.choose(a, b));
        assertEquals(1, alert.await().index);
        assertTrue(alert.suppressed);
        assertArrayEquals(new String[] {a, b}, chosen.paths);
        assertArrayEquals(new boolean[] {true}, chosen.states);
        return List.of(new WeakReference<>(alert), new WeakReference<>(chosen));
    }
}
