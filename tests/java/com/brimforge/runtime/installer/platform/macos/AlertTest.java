package com.brimforge.runtime.installer.platform.macos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.params.provider.Arguments.arguments;

import com.brimforge.runtime.installer.platform.macos.DialogResults.AlertResult;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** showAlert0 from the Java call to the callback, answered by the scripted user. */
class AlertTest {
    /** The signature and header chunk of a PNG image of 3 by 2 pixels. */
    static final byte[] PNG_3_BY_2 = {
        (byte) 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 3, 0, 0, 0, 2,
        8, 6, 0, 0, 0,
    };

    @BeforeAll
    static void load() {
        NativeLibraries.loadInstallerWithHost();
    }

    @BeforeEach
    void newUser() {
        ScriptedUser.install();
    }

    private static AlertResult show(String title, String message, String[] buttons, String cancelTitle, byte[] icon,
            boolean warning, boolean suppressionShown, String... steps) throws InterruptedException {
        ScriptedUser.script(steps);
        AlertResult result = new AlertResult();
        MacosUiHelper.showAlert0(title, message, buttons, cancelTitle, icon, warning, suppressionShown, result);
        return result.await();
    }

    static Stream<Arguments> escapeCases() {
        return Stream.of(
                arguments(new String[] {"Ja", "Nein", "Abbrechen"}, "Abbrechen", new String[] {"escape"}, 2,
                        List.of("Ja key=U+000D", "Nein key=", "Abbrechen key=U+001B")),
                // No button has the cancel title: Escape does nothing and the next step answers.
                arguments(new String[] {"OK", "Später"}, "Schließen", new String[] {"escape", "press 1"}, 1,
                        List.of("OK key=U+000D", "Später key=")),
                // Every button with the cancel title answers Escape; the first of them is pressed.
                arguments(new String[] {"Nein", "Ja", "Nein"}, "Nein", new String[] {"escape"}, 0,
                        List.of("Nein key=U+001B", "Ja key=", "Nein key=U+001B")));
    }

    @ParameterizedTest
    @MethodSource("escapeCases")
    void escapePressesTheButtonWithTheCancelTitle(String[] buttons, String cancelTitle, String[] steps, int index,
            List<String> buttonLines) throws Exception {
        assertEquals(index, show("Weiter?", null, buttons, cancelTitle, null, false, false, steps).index);
        assertEquals(buttonLines, ScriptedUser.onlySheet().shown("button"));
    }

    static Stream<Arguments> suppressionCases() {
        return Stream.of(
                arguments(false, new String[] {"tick 0", "press 0"}, false),  // a hidden box's state never counts
                arguments(true, new String[] {"tick 0", "press 0"}, true),
                arguments(true, new String[] {"press 0"}, false),
                arguments(true, new String[] {"tick 0", "untick 0", "press 0"}, false));
    }

    @ParameterizedTest
    @MethodSource("suppressionCases")
    void suppressedOnlyWhenTheBoxIsShownAndTicked(boolean shown, String[] steps, boolean suppressed) throws Exception {
        AlertResult result = show("Update", null, new String[] {"OK"}, null, null, false, shown, steps);
        assertEquals(0, result.index);
        assertEquals(suppressed, result.suppressed);
        assertEquals(shown ? "shown off" : "hidden off", ScriptedUser.onlySheet().value("suppressionButton"));
    }

    static Stream<Arguments> sheetCases() {
        return Stream.of(
                // Nothing set: the platform's texts and the application's icon, on no window.
                arguments(null, null, null, false, null, Map.of("messageText", "Alert", "informativeText", "",
                        "icon", "NSApplicationIcon 128x128", "alertStyle", "0", "window", "(none)")),
                arguments("Install?", "It takes a minute.", PNG_3_BY_2, true, "Installer", Map.of("messageText",
                        "Install?", "informativeText", "It takes a minute.", "icon", "png 3x2", "alertStyle", "2",
                        "window", "Installer")),
                // Data that is no image leaves the icon unset, the platform's default.
                arguments("Install?", "", new byte[] {'G', 'I', 'F', '8'}, false, null, Map.of("icon", "(none)")));
    }

    @ParameterizedTest
    @MethodSource("sheetCases")
    void sheetShowsTheTextsIconStyleAndWindow(String title, String message, byte[] icon, boolean warning,
            String keyWindow, Map<String, String> expected) throws Exception {
        ScriptedUser.setKeyWindow(keyWindow);
        show(title, message, new String[] {"OK"}, null, icon, warning, false, "press 0");
        ScriptedUser.Sheet sheet = ScriptedUser.onlySheet();
        assertEquals("Alert", sheet.value("sheet"));
        expected.forEach((name, value) -> assertEquals(value, sheet.value(name), name));
    }

    static Stream<Arguments> systemEndings() {
        return Stream.of(
                arguments((Object) new String[] {"end"}),
                arguments((Object) new String[] {"press 7"}),  // no such button: the script ends, the system closes
                arguments((Object) null));  // no script at all
    }

    @ParameterizedTest
    @MethodSource("systemEndings")
    void sheetEndedByTheSystemGivesMinus1000(String[] steps) throws Exception {
        AlertResult result = new AlertResult();
        if (steps != null) ScriptedUser.script(steps);
        MacosUiHelper.showAlert0("Install?", null, new String[] {"OK", "Cancel"}, "Cancel", null, false, true, result);
        assertEquals(-1000, result.await().index);
        assertFalse(result.suppressed);
        assertEquals(0, ScriptedUser.onlySheet().ended());
    }

    @Test
    void returnsBeforeTheSheetIsShown() throws Exception {
        ScriptedUser.script("press 1");
        AlertResult result = new AlertResult();
        ScriptedUser.holdMainQueue();
        try {
            MacosUiHelper.showAlert0("Now?", null, new String[] {"Yes", "No"}, null, null, false, false, result);
            assertEquals(0, result.calls);
        } finally {
            ScriptedUser.releaseMainQueue();
        }
        assertEquals(1, result.await().index);
        assertEquals(1001, ScriptedUser.onlySheet().ended());
    }
}
