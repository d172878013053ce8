package com.brimforge.runtime.installer.platform.macos;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The window-reordering guard through libbfgnative's natives, seen through
 * the host's AWTWindow that the library hooked when it loaded.
 */
class MacosUiHelperTest {
    @BeforeAll
    static void load() {
        NativeLibraries.loadInstallerWithHost();
    }

    @AfterEach
    void guardIsInactiveAgain() {
        HostWindow.setCanBecomeMain(true);
        assertTrue(HostWindow.canBecomeMainWindow(), "a test left the guard active");
    }

    @Test
    void inactiveGuardKeepsTheWindowsOwnBehaviour() {
        HostWindow.setCanBecomeMain(false);
        assertFalse(HostWindow.canBecomeMainWindow());
        HostWindow.setCanBecomeMain(true);
        assertTrue(HostWindow.canBecomeMainWindow());
        int before = HostWindow.activations();
        HostWindow.windowDidBecomeMain();
        assertEquals(before + 1, HostWindow.activations());
    }

    @Test
    void guardNests() {
        MacosUiHelper.disableReordering0();
        MacosUiHelper.disableReordering0();
        MacosUiHelper.enableReordering0();
        assertFalse(HostWindow.canBecomeMainWindow());
        MacosUiHelper.enableReordering0();
        assertTrue(HostWindow.canBecomeMainWindow());
    }

    @Test
    void enableWithoutDisableCountsAsActive() {
        MacosUiHelper.enableReordering0();
        assertFalse(HostWindow.canBecomeMainWindow());
        MacosUiHelper.disableReordering0();
        assertTrue(HostWindow.canBecomeMainWindow());
    }

    @Test
    void activeGuardSuppressesBecomingMain() {
        int before = HostWindow.activations();
        MacosUiHelper.disableReordering0();
        HostWindow.windowDidBecomeMain();
        assertEquals(before, HostWindow.activations());
        MacosUiHelper.enableReordering0();
        HostWindow.windowDidBecomeMain();
        assertEquals(before + 1, HostWindow.activations());
    }

    @Test
    void threadsChangingTheGuardAtOnceLoseNoChange() throws Exception {
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < 8; t++) {
            threads.add(new Thread(() -> {
                for (int i = 0; i < 20000; i++) {
                    MacosUiHelper.disableReordering0();
                    MacosUiHelper.enableReordering0();
                }
            }));
        }
        MacosUiHelper.disableReordering0();
        for (Thread thread : threads) thread.start();
        for (Thread thread : threads) thread.join();
        assertFalse(HostWindow.canBecomeMainWindow());
        MacosUiHelper.enableReordering0();
        assertTrue(HostWindow.canBecomeMainWindow());
    }

    @Test
    void loadsWithoutTheHostsWindowClass() throws Exception {
        ChildJvm child = ChildJvm.run("installer-alone");
        assertEquals(0, child.exitCode, child.stdout + child.stderrText());
        assertFalse(child.stdout.contains("WARNING"), "JNI checks warned:\n" + child.stdout);
        assertTrue(child.stdout.contains("child done"), child.stdout);
    }
}
