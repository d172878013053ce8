package com.brimforge.runtime.installer.platform.macos;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTimeoutPreemptively;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.Map;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * getLocalizedString0 on a bundle written to a temporary folder. This VM runs
 * with LANGUAGE=fr, so its lookups read fr.lproj; the choice of the language
 * folder is seen through child VMs with other locale variables.
 */
class MacLocalizationTest {
    @TempDir static Path folder;
    static String bundle;

    @BeforeAll
    static void writeBundle() throws IOException, InterruptedException {
        assertEquals("fr", System.getenv("LANGUAGE"), "the test runs with LANGUAGE=fr");
        NativeLibraries.loadInstallerWithHost();
        Path resources = folder.resolve("Test.bundle/Contents/Resources");
        for (String language : new String[] {"en", "pt", "pt_BR", "zh_HK"}) {
            write(resources.resolve(language + ".lproj/Localizable.strings"), "\"language\" = \"" + language + "\";\n");
        }
        // The characters \ and " of the table are doubled here for Java.
        write(resources.resolve("fr.lproj/Localizable.strings"), """
                /* The French table */
                "language" = "fr";
                "greeting" = "Bonjour %@ et %@";   // two placeholders
                "swapped" = "%2$@ avant %1$@";
                "sentinel" = "_";
                "hostile" = "%s %n %x %@";
                "escaped" = "a \\"quoted\\" word,\\ta tab\\nand \\\\ \\U00e9";
                "emoji" = "\uD83D\uDE00 \\UD83C\\UDFB5";
                """);
        write(resources.resolve("fr.lproj/Custom.strings"), """
                <?xml version="1.0" encoding="UTF-8"?>
                <plist version="1.0"><dict>
                  <key>custom</key><string>from a property list &amp; its table</string>
                </dict></plist>
                """);
        Files.write(resources.resolve("fr.lproj/Wide.strings"),
                "\uFEFF\"wide\" = \"UTF-16 \u00E9 \uD83D\uDE00\";".getBytes(StandardCharsets.UTF_16LE));
        write(resources.resolve("fr.lproj/Broken.strings"), "\"language\" = \"no semicolon\"\n\"other\" = \"x\";\n");
        // Opening the FIFO to read it would wait for a writer; /dev/zero never ends.
        Process mkfifo = new ProcessBuilder("mkfifo", resources.resolve("fr.lproj/Fifo.strings").toString()).start();
        assertEquals(0, mkfifo.waitFor(), "mkfifo");
        Files.createSymbolicLink(resources.resolve("fr.lproj/Zero.strings"), Path.of("/dev/zero"));
        write(folder.resolve("not-a-folder"), "");
        bundle = folder.resolve("Test.bundle").toString();
    }

    private static void write(Path path, String text) throws IOException {
        Files.createDirectories(path.getParent());
        Files.writeString(path, text, StandardCharsets.UTF_8);
    }

    private static String lookup(String table, String key, String value1, String value2, String value3) {
        return MacLocalization.getLocalizedString0(bundle, table, key, value1, value2, value3);
    }

    @Test
    void valuesGoOnlyIntoObjectPlaceholders() {
        assertAll(
                // Without value1 nothing is formatted.
                () -> assertEquals("Bonjour %@ et %@", lookup(null, "greeting", null, "B", "C")),
                () -> assertEquals("Bonjour Anne et Paul", lookup(null, "greeting", "Anne", "Paul", "Zo\u00E9")),
                () -> assertEquals("Bonjour Anne et (null)", lookup(null, "greeting", "Anne", null, null)),
                () -> assertEquals("deux avant un", lookup(null, "swapped", "un", "deux", null)),
                () -> assertEquals("%s %n %x x", lookup(null, "hostile", "x", null, null)),
                () -> assertEquals("Bonjour \uD83D\uDE00 et \uD834\uDD1E",
                        lookup(null, "greeting", "\uD83D\uDE00", "\uD834\uDD1E", null)));
    }

    @Test
    void tablesOfEveryFormAreRead() {
        assertAll(
                () -> assertEquals("a \"quoted\" word,\ta tab\nand \\ \u00E9", lookup(null, "escaped", null, null, null)),
                () -> assertEquals("\uD83D\uDE00 \uD83C\uDFB5", lookup(null, "emoji", null, null, null)),
                () -> assertEquals("from a property list & its table", lookup("Custom", "custom", null, null, null)),
                () -> assertEquals("UTF-16 \u00E9 \uD83D\uDE00", lookup("Wide", "wide", null, null, null)));
    }

    @Test
    void everyFailedLookupGivesNull() {
        assertAll(
                () -> assertNull(lookup(null, "sentinel", "x", null, null), "a translation that is \"_\""),
                () -> assertNull(lookup(null, "missing", null, null, null), "a missing key"),
                () -> assertNull(lookup(null, null, null, null, null), "a null key"),
                () -> assertNull(lookup("Missing", "language", null, null, null), "a missing table"),
                () -> assertNull(lookup("Broken", "other", null, null, null), "a malformed table"),
                () -> assertNull(lookup("../fr.lproj/Localizable", "language", null, null, null), "a path as table"),
                () -> assertNull(MacLocalization.getLocalizedString0(
                        folder.resolve("nowhere").toString(), null, "language", null, null, null), "no bundle"),
                () -> assertNull(MacLocalization.getLocalizedString0(
                        folder.resolve("not-a-folder").toString(), null, "language", null, null, null), "a file"),
                () -> assertNull(MacLocalization.getLocalizedString0(null, null, "language", null, null, null)));
    }

    @Test
    void tablesThatAreNoRegularFileGiveNullAtOnceEveryTime() {
        // The second lookup of each table asks again, and must not wait behind the first.
        for (String table : new String[] {"Fifo", "Zero", "Fifo", "Zero"}) {
            assertNull(assertTimeoutPreemptively(Duration.ofSeconds(1), () -> lookup(table, "language", null, null, null)),
                    table);
        }
        assertEquals("fr", lookup(null, "language", null, null, null), "the other tables are read as before");
    }

    @Test
    void theLanguageFolderFollowsTheLocaleVariables() throws Exception {
        record Case(Map<String, String> locale, String found, String why) {}
        Case[] cases = {
            new Case(Map.of("LANGUAGE", "de", "LANG", "pt_BR.UTF-8"), "pt_BR", "no de folder: the current locale"),
            new Case(Map.of("LANG", "pt_BR.UTF-8"), "pt_BR", "pt-BR finds pt_BR before pt"),
            new Case(Map.of("LANGUAGE", "fr_CA"), "fr", "a plain language folder"),
            new Case(Map.of("LANG", "zh_HK.UTF-8"), "zh_HK", "zh-Hant-HK finds zh_HK"),
            new Case(Map.of("LANGUAGE", "zh_TW"), "zh_HK", "Traditional Chinese of Taiwan falls back to zh_HK"),
            new Case(Map.of("LANGUAGE", "de:fr", "LC_ALL", "C", "LANG", "fr_FR"), "en",
                    "only the first preferred language; LC_ALL before LANG"),
            new Case(Map.of("LANGUAGE", "de", "LANG", "de_DE.UTF-8"), "null", "no folder at all"),
        };
        for (Case c : cases) {
            ChildJvm child = ChildJvm.run(c.locale(), "localized", bundle);
            assertEquals(0, child.exitCode, child.stdout + child.stderrText());
            assertFalse(child.stdout.contains("WARNING"), "JNI checks warned:\n" + child.stdout);
            assertEquals("language=" + c.found(), child.stdout.lines().findFirst().orElse(""), c.why());
        }
    }
}
