package com.brimforge.runtime.installer.platform.macos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * log0 writes through the system log, whose entries go to standard error; a
 * child VM logs and this test reads its standard error.
 */
class MacLogTest {
    private static final Pattern LINE =
            Pattern.compile("(\\d{4})-(\\d\\d)-(\\d\\d) (\\d\\d):(\\d\\d):(\\d\\d)\\.(\\d{3}) java\\[(\\d+):(\\d+)\\] (.*)");

    /** One log entry: the thread id and the message. */
    record Entry(long thread, String message) {}

    private static List<Entry> entries(ChildJvm child) {
        assertEquals(0, child.exitCode, child.stdout + child.stderrText());
        assertFalse(child.stdout.contains("WARNING"), "JNI checks warned:\n" + child.stdout);
        assertTrue(child.stdout.contains("child done"), child.stdout);
        List<Entry> entries = new ArrayList<>();
        for (String line : child.stderrText().split("\n", -1)) {
            if (line.isEmpty()) continue;
            Matcher m = LINE.matcher(line);
            assertTrue(m.matches(), "not a log line: " + line);
            assertEquals(child.pid, Long.parseLong(m.group(8)), line);
            entries.add(new Entry(Long.parseLong(m.group(9)), m.group(10)));
        }
        return entries;
    }

    @Test
    void messagesReachTheLogLiterallyAndUnchanged() throws Exception {
        List<Entry> entries = entries(ChildJvm.run("messages"));
        assertEquals(Child.MESSAGES.length, entries.size(), entries.toString());
        // Format directives in a message stay as they are; an empty message is
        // an empty entry; null gives the placeholder; supplementary characters
        // arrive as the same characters.
        assertEquals("%@ and %d and %% and %s", entries.get(0).message());
        assertEquals("", entries.get(1).message());
        assertEquals("(null)", entries.get(2).message());
        assertEquals("\uD83D\uDE00 U+1F600 and \uD834\uDD1E U+1D11E", entries.get(3).message());
        assertEquals("caf\u00E9 \u20AC 100%", entries.get(4).message());
    }

    @Test
    void threadsLoggingAtOnceGiveWholeEntries() throws Exception {
        List<Entry> entries = entries(ChildJvm.run("threads"));
        assertEquals(Child.THREADS * Child.PER_THREAD, entries.size());
        Set<String> expected = new HashSet<>();
        for (int t = 0; t < Child.THREADS; t++) {
            for (int i = 0; i < Child.PER_THREAD; i++) expected.add(Child.threadMessage(t, i));
        }
        Set<String> seen = new HashSet<>();
        Set<Long> threads = new HashSet<>();
        for (Entry entry : entries) {
            assertTrue(expected.contains(entry.message()), "damaged entry: " + entry.message());
            assertTrue(seen.add(entry.message()), "entry twice: " + entry.message());
            threads.add(entry.thread());
        }
        assertTrue(threads.size() > 1, "every entry names the same thread");
    }
}
