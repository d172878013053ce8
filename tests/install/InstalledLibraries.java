package com.brimforge.runtime.installer.platform.macos;

import com.brimforge.runtime.installer.platform.macos.DialogResults.AlertResult;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * Loads the installed JNI libraries as a Java host does and makes one call of
 * each kind, with no test host: libbfgnative by its absolute path, libbfglog
 * by name from java.library.path. Run with -Xcheck:jni, LANGUAGE=fr and the
 * library folder as its argument; prints one line per check and exits with 1
 * at the first that fails.
 */
final class InstalledLibraries {
    private InstalledLibraries() {}

    static void check(boolean holds, String what, Object seen) {
        if (!holds) {
            System.out.println("FAILED: " + what + " (got " + seen + ")");
            System.exit(1);
        }
        System.out.println("ok: " + what);
    }

    public static void main(String[] args) throws Exception {
        System.load(Path.of(args[0], "libbfgnative.so").toString());
        System.loadLibrary("bfglog");

        // No user agent: the alert ends as the system ends it.
        AlertResult alert = new AlertResult();
        MacosUiHelper.showAlert0("Install?", "From the package", new String[] {"OK", "Cancel"}, "Cancel", null,
                false, false, alert);
        check(alert.await().index == -1000 && !alert.suppressed, "an unanswered alert gives -1000", alert.index);

        boolean root = "root".equals(System.getProperty("user.name"));
        int created = MacAuthorization.create0("Install the helper");
        check(created == (root ? 0 : -60005), "the administrator right is " + (root ? "granted" : "denied"), created);
        if (root) {
            String echoed = MacAuthorization.executeAndWait0("/bin/echo", new String[] {"installed", "w\u00F6rld"});
            check("installed w\u00F6rld\n".equals(echoed), "a privileged /bin/echo answers", echoed);
        }
        MacAuthorization.free0();

        Path bundle = Files.createTempDirectory("bfg-installed").resolve("Test.bundle");
        Path table = bundle.resolve("Contents/Resources/fr.lproj/Localizable.strings");
        Files.createDirectories(table.getParent());
        Files.writeString(table, "\"greeting\" = \"Bonjour %@\";\n", StandardCharsets.UTF_8);
        String text = MacLocalization.getLocalizedString0(bundle.toString(), null, "greeting", "\u00E9t\u00E9",
                null, null);
        check("Bonjour \u00E9t\u00E9".equals(text), "a localized string is looked up", text);

        MacLog.log0("installed libbfglog logs");
        System.out.println("done");
        System.exit(0);
    }
}
