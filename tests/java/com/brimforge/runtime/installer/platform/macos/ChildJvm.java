package com.brimforge.runtime.installer.platform.macos;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/** Runs {@link Child} in a new VM with -Xcheck:jni and collects what it wrote. */
final class ChildJvm {
    final int exitCode;
    final long pid;
    final String stdout;
    final byte[] stderr;

    private ChildJvm(int exitCode, long pid, String stdout, byte[] stderr) {
        this.exitCode = exitCode;
        this.pid = pid;
        this.stdout = stdout;
        this.stderr = stderr;
    }

    static ChildJvm run(String... args) throws IOException, InterruptedException {
        return run((Map<String, String>) null, args);
    }

    /**
     * Runs the child with the locale variables LANGUAGE, LC_ALL, LC_MESSAGES
     * and LANG removed from its environment, then those of {@code locale}
     * set; a null map keeps the environment as it is.
     */
    static ChildJvm run(Map<String, String> locale, String... args) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("java.home") + File.separator + "bin" + File.separator + "java");
        command.add("-Xcheck:jni");
        for (String property : new String[] {"bfg.native", "bfg.log", "bfg.testhost"}) {
            command.add("-D" + property + "=" + NativeLibraries.path(property));
        }
        command.add("-cp");
        command.add(NativeLibraries.path("bfg.classes"));
        command.add(Child.class.getName());
        command.addAll(List.of(args));

        File out = File.createTempFile("bfg-child", ".out");
        File err = File.createTempFile("bfg-child", ".err");
        try {
            ProcessBuilder builder = new ProcessBuilder(command).redirectOutput(out).redirectError(err);
            if (locale != null) {
                builder.environment().keySet().removeAll(List.of("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"));
                builder.environment().putAll(locale);
            }
            Process process = builder.start();
            if (!process.waitFor(120, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new IllegalStateException("child VM did not finish");
            }
            return new ChildJvm(process.exitValue(), process.pid(),
                    Files.readString(out.toPath(), StandardCharsets.UTF_8), Files.readAllBytes(err.toPath()));
        } finally {
            out.delete();
            err.delete();
        }
    }

    String stderrText() {
        return new String(stderr, StandardCharsets.UTF_8);
    }
}
