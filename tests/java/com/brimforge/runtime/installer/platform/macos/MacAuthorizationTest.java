package com.brimforge.runtime.installer.platform.macos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Comparator;
import java.util.Optional;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** Privileged execution through libbfgnative's MacAuthorization natives. */
class MacAuthorizationTest {
    static final String MARKER = "__kqvx_";
    static final boolean ROOT = "root".equals(System.getProperty("user.name"));

    Path folder;

    @BeforeAll
    static void load() {
        NativeLibraries.loadInstallerWithHost();
    }

    @BeforeEach
    void setUp() throws Exception {
        folder = Files.createTempDirectory("bfg auth \uD83D\uDE00 ");
        if (ROOT) assertEquals(0, MacAuthorization.create0("Install the helper"));
    }

    @AfterEach
    void tearDown() throws Exception {
        MacAuthorization.free0();
        try (Stream<Path> paths = Files.walk(folder)) {
            paths.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }

    static long children() {
        return ProcessHandle.current().children().count();
    }

    @Test
    void authorizationIsHeldOnceAndFreedOnce() {
        MacAuthorization.free0();
        int expected = ROOT ? 0 : -60005;
        assertEquals(expected, MacAuthorization.create0(null), "no prompt");
        assertEquals(expected, MacAuthorization.create0("another prompt"));
        assertEquals(0, MacAuthorization.free0());
        assertEquals(0, MacAuthorization.free0(), "nothing held");
        assertEquals(-60001, MacAuthorization.create0("a\u0000b"), "a prompt the system cannot hold");
        assertEquals(-60001, MacAuthorization.create0("a\uD800b"), "a prompt the system cannot hold");
        assertEquals(MARKER + "-60002", MacAuthorization.executeAndWait0("/bin/echo", new String[] {"x"}));
        assertEquals(-60002, MacAuthorization.execute0("/bin/echo", new String[] {"x"}));
    }

    @Test
    void repliesOfExecuteAndWait() throws Exception {
        assumeTrue(ROOT, "the right is granted to root only");
        Files.createFile(folder.resolve("not-executable"));
        Files.setPosixFilePermissions(Files.createFile(folder.resolve("no-interpreter")),
                PosixFilePermissions.fromString("rwxr-xr-x"));  // empty: no #! line, and no shell to fall back on
        String[][] cases = {
            // tool, arguments..., expected reply
            {"/bin/echo", "hello", "w\u00F6rld \uD83D\uDE00", "hello w\u00F6rld \uD83D\uDE00\n"},
            {"/bin/echo", "a", null, "b", "a\n"},
            {"/bin/true", ""},
            {"/bin/cat", ""},  // its input ends at once
            {"/bin/echo", "a\u0000b", MARKER + "-60001"},
            {"/bin/echo", "a\uD800", MARKER + "-60001"},
            {"/bin/echo\uDC00", MARKER + "-60001"},
            {folder + "/missing", MARKER + "-60031"},
            {folder + "/not-executable", MARKER + "-60031"},
            {folder + "/no-interpreter", MARKER + "-60031"},
            {folder.toString(), MARKER + "-60031"},
            {null, MARKER + "-60001"},
        };
        for (String[] c : cases) {
            String[] arguments = java.util.Arrays.copyOfRange(c, 1, c.length - 1);
            assertEquals(c[c.length - 1], MacAuthorization.executeAndWait0(c[0], arguments), String.valueOf(c[0]));
            assertEquals(0, children(), "no process left behind by " + c[0]);
        }
        assertEquals(MARKER + "-60001", MacAuthorization.executeAndWait0("/bin/echo", null));
        assertEquals(-60001, MacAuthorization.execute0(null, new String[0]));
    }

    @Test
    void toolPathAndArgumentsReachTheToolIntact() throws Exception {
        assumeTrue(ROOT, "the right is granted to root only");
        Path tool = folder.resolve("tool \uD83D\uDE00.sh");
        Files.writeString(tool, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\"\n");
        Files.setPosixFilePermissions(tool, PosixFilePermissions.fromString("rwxr-xr-x"));
        String[] arguments = {"\uD83D\uDE00", "", "two words", "\uD834\uDD1E caf\u00E9"};
        assertEquals(tool + "\n\uD83D\uDE00\n\ntwo words\n\uD834\uDD1E caf\u00E9\n",
                MacAuthorization.executeAndWait0(tool.toString(), arguments));
    }

    @Test
    void longOutputArrivesWholeAndDecodedOnce() throws Exception {
        assumeTrue(ROOT, "the right is granted to root only");
        // A four-byte character across the first 1023-byte piece, then
        // 100 KB of two-, three- and four-byte characters and U+0000, and a
        // byte that is not UTF-8 at the end.
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        bytes.writeBytes("x".repeat(1021).getBytes(StandardCharsets.UTF_8));
        while (bytes.size() < 100_000) bytes.writeBytes("\uD83D\uDE00 \u00E9\u20AC\u0000".getBytes(StandardCharsets.UTF_8));
        String expected = bytes.toString(StandardCharsets.UTF_8) + "\uFFFD";
        bytes.write(0xFF);
        Path file = folder.resolve("output");
        Files.write(file, bytes.toByteArray());
        assertEquals(expected, MacAuthorization.executeAndWait0("/bin/cat", new String[] {file.toString()}));
    }

    @Test
    void executeReturnsAtOnceAndLeavesNoZombie() throws Exception {
        assumeTrue(ROOT, "the right is granted to root only");
        Path pid = folder.resolve("pid");
        Path go = folder.resolve("go");
        Path done = folder.resolve("done");
        String script = "echo $$ > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"; while [ ! -e \"$2\" ]; do sleep 0.05; done; touch \"$3\"";
        assertEquals(0, MacAuthorization.execute0("/bin/sh",
                new String[] {"-c", script, "sh", pid.toString(), go.toString(), done.toString()}));
        waitFor(() -> Files.exists(pid));
        Optional<ProcessHandle> tool = ProcessHandle.of(Long.parseLong(Files.readString(pid).trim()));
        assertTrue(tool.isPresent() && tool.get().isAlive(), "the tool still waits");
        assertFalse(Files.exists(done));
        assertEquals(0, children(), "the tool is detached");

        Files.createFile(go);
        waitFor(() -> Files.exists(done));
        waitFor(() -> exited(tool.get().pid()));
        assertEquals(0, children(), "nothing is left to reap");
    }

    /** Gone, or ended and waiting for a parent other than this VM to reap it. */
    static boolean exited(long pid) throws Exception {
        Path stat = Path.of("/proc/" + pid + "/stat");
        try {
            String text = Files.readString(stat);
            return text.substring(text.lastIndexOf(')') + 2).startsWith("Z");
        } catch (java.nio.file.NoSuchFileException e) {
            return true;
        }
    }

    interface Condition {
        boolean holds() throws Exception;
    }

    static void waitFor(Condition condition) throws Exception {
        for (int i = 0; i < 600 && !condition.holds(); i++) Thread.sleep(50);
        assertTrue(condition.holds(), "gave up after 30 s");
    }
}
