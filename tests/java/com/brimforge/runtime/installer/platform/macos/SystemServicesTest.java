package com.brimforge.runtime.installer.platform.macos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * MacFileSystem, MacosEnvHelper and MacProcessHelper through libbfgnative,
 * with the freedesktop folders pointed at a temporary folder (by setEnv0
 * itself, since the stand-ins read the process environment).
 */
class SystemServicesTest {
    static final String[] XDG = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME"};

    Path folder;
    final Map<String, String> saved = new HashMap<>();

    /** A process record, built by getGuiProcesses0. */
    static final class GuiProcess {
        final int pid;
        final String name;
        final String bundleId;
        final boolean background;

        GuiProcess(int pid, String name, String bundleId, boolean background) {
            this.pid = pid;
            this.name = name;
            this.bundleId = bundleId;
            this.background = background;
        }
    }

    /** Lacks the constructor getGuiProcesses0 needs. */
    static final class NoConstructor {
        NoConstructor(int pid) {}
    }

    @BeforeAll
    static void load() {
        NativeLibraries.loadInstallerWithHost();
    }

    static String env(String name) {
        byte[] value = SystemHost.getenv(name);
        return value == null ? null : new String(value, StandardCharsets.UTF_8);
    }

    @BeforeEach
    void setUp() throws Exception {
        folder = Files.createTempDirectory("bfg-services");
        for (String name : XDG) saved.put(name, env(name));
        Files.createDirectories(folder.resolve("data/applications"));
        assertTrue(MacosEnvHelper.setEnv0("XDG_DATA_HOME", folder.resolve("data").toString()));
        assertTrue(MacosEnvHelper.setEnv0("XDG_DATA_DIRS", folder.resolve("none").toString()));
        assertTrue(MacosEnvHelper.setEnv0("XDG_CONFIG_HOME", folder.resolve("config").toString()));
    }

    @AfterEach
    void tearDown() throws Exception {
        for (String name : XDG) MacosEnvHelper.setEnv0(name, saved.get(name));
        try (Stream<Path> paths = Files.walk(folder)) {
            paths.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }

    @Test
    void setEnvSetsAndRemovesVariables() {
        Object[][] cases = {
            // name, value, result, what the environment holds afterwards
            {"BFG_TEST_VAR", "v\uD83D\uDE00 \u00E9", true, "v\uD83D\uDE00 \u00E9"},
            {"BFG_TEST_VAR", "", true, ""},
            {"BFG_TEST_VAR", null, true, null},
            {"BFG_TEST_VAR", null, true, null},  // removing a missing variable
            {"BFG_TEST_VAR", "a\u0000b", false, null},
            {"", "x", false, null},
            {"BFG=TEST", "x", false, null},
            {"BFG_TEST_VAR\u0000X", "x", false, null},
            {"BFG_TEST_VAR", "a\uD800b", false, null},
            {"BFG_TEST_VAR", "\uDE00", false, null},
            {"BFG_TEST_VAR\uD800", "x", false, null},
            {null, "x", false, null},
        };
        for (Object[] c : cases) {
            String what = c[0] + "=" + c[1];
            assertEquals(c[2], MacosEnvHelper.setEnv0((String) c[0], (String) c[1]), what);
            assertEquals(c[3], env("BFG_TEST_VAR"), what);
        }
    }

    @Test
    void listsTheUsersProcessesMatchedAgainstDesktopEntries() throws Exception {
        String java = ProcessHandle.current().info().command().orElseThrow();
        Files.writeString(folder.resolve("data/applications/bfg-test-vm.desktop"),
                "[Desktop Entry]\nType=Application\nName=Test VM \uD83D\uDE00\nExec=\"" + java + "\" -jar %f\n");
        // More processes than a small local frame holds.
        List<Process> sleepers = new ArrayList<>();
        try {
            for (int i = 0; i < 40; i++) sleepers.add(new ProcessBuilder("sleep", "60").start());
            Object[] processes = MacProcessHelper.getGuiProcesses0(GuiProcess.class);
            assertNotNull(processes);
            Map<Long, GuiProcess> byPid = new HashMap<>();
            int last = 0;
            for (Object o : processes) {
                GuiProcess p = (GuiProcess) o;
                assertNotNull(p, "every element is filled");
                assertTrue(p.pid > last, "in process-id order");
                last = p.pid;
                byPid.put((long) p.pid, p);
            }
            GuiProcess self = byPid.get(ProcessHandle.current().pid());
            assertNotNull(self, "this VM is listed");
            assertEquals("Test VM \uD83D\uDE00", self.name);
            assertEquals("bfg-test-vm", self.bundleId);
            assertFalse(self.background);
            for (Process sleeper : sleepers) {
                GuiProcess p = byPid.get(sleeper.pid());
                assertNotNull(p, "sleep " + sleeper.pid() + " is listed");
                assertEquals("sleep", p.name);
                assertNull(p.bundleId);
                assertTrue(p.background);
            }
        } finally {
            for (Process sleeper : sleepers) sleeper.destroyForcibly().waitFor();
        }
        assertThrows(NoSuchMethodError.class, () -> MacProcessHelper.getGuiProcesses0(NoConstructor.class));
    }

    @Test
    void defaultHandlerIsWrittenToMimeappsList() throws Exception {
        Files.writeString(folder.resolve("data/applications/org.example.Handler.desktop"),
                "[Desktop Entry]\nType=Application\nName=Handler\n");
        Path list = folder.resolve("config/mimeapps.list");
        Files.createDirectories(list.getParent());
        Files.writeString(list, "# kept\n[Default Applications]\ntext/html=browser.desktop\n\n[Added Associations]\n");
        assertEquals(0, MacFileSystem.setDefaultHandlerForURLScheme0("bfg-test", "org.example.Handler"));
        assertEquals("# kept\n[Default Applications]\ntext/html=browser.desktop\n"
                + "x-scheme-handler/bfg-test=org.example.Handler.desktop;\n\n[Added Associations]\n",
                Files.readString(list));
        assertEquals(-50, MacFileSystem.setDefaultHandlerForURLScheme0(null, "org.example.Handler"));
    }

    @Test
    void restartRequestReachesOnlyARegisteredReceiver() {
        MacProcessHelper.reboot0();  // nobody registered: nothing happens
        assertEquals("", SystemHost.systemEvents());
        SystemHost.recordSystemEvents();
        try {
            MacProcessHelper.reboot0();
        } finally {
            SystemHost.stopRecording();
        }
        MacProcessHelper.reboot0();
        String[] events = SystemHost.systemEvents().split("\n");
        assertEquals(1, events.length, String.join("\n", events));
        assertTrue(events[0].matches("class=aevt id=rest target=psn :0:1 return=[1-9][0-9]* transaction=0 mode=1 timeout=-1"),
                events[0]);
    }
}
