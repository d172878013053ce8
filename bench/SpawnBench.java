package com.brimforge.runtime.installer.platform.macos;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

/**
 * How long starting a tool takes from this VM: /bin/true run through
 * privileged execution (executeAndWait0, which ends when the tool closes its
 * output; execute0, which ends once it is started) beside ProcessBuilder
 * (start and waitFor; start alone), interleaved, in the same VM. Prints the
 * median and the slowest of each in milliseconds, with the VM's heap and the
 * load average. Needs root, to whom the right is granted.
 *
 * Arguments: the path of libbfgnative, and the number of runs (40).
 */
final class SpawnBench {
    private SpawnBench() {}

    interface Run {
        void run() throws Exception;
    }

    static double millis(Run run) throws Exception {
        long start = System.nanoTime();
        run.run();
        return (System.nanoTime() - start) / 1e6;
    }

    static String summary(String what, double[] times) {
        double[] sorted = times.clone();
        Arrays.sort(sorted);
        int n = sorted.length;
        double median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        return String.format("%-38s median %7.2f ms  max %7.2f ms", what, median, sorted[n - 1]);
    }

    public static void main(String[] args) throws Exception {
        System.load(Path.of(args[0]).toAbsolutePath().toString());
        int runs = args.length > 1 ? Integer.parseInt(args[1]) : 40;
        int created = MacAuthorization.create0(null);
        if (created != 0) {
            System.err.println("create0 answered " + created + ": the benchmark needs root");
            System.exit(1);
        }
        String[] none = new String[0];
        Run waited = () -> {
            String reply = MacAuthorization.executeAndWait0("/bin/true", none);
            if (!reply.isEmpty()) throw new IllegalStateException("executeAndWait0: " + reply);
        };
        Run started = () -> {
            int status = MacAuthorization.execute0("/bin/true", none);
            if (status != 0) throw new IllegalStateException("execute0: " + status);
        };
        Run builderWaited = () -> new ProcessBuilder("/bin/true").start().waitFor();
        Run builderStarted = () -> new ProcessBuilder("/bin/true").start();
        Run[] all = {waited, started, builderWaited, builderStarted};
        for (int i = 0; i < 5; i++) {
            for (Run run : all) run.run();  // warm up
        }
        double[][] times = new double[all.length][runs];
        for (int i = 0; i < runs; i++) {
            for (int k = 0; k < all.length; k++) times[k][i] = millis(all[k]);
        }
        Runtime vm = Runtime.getRuntime();
        System.out.printf("heap %d MB (committed %d MB), %d runs, load average %s%n", vm.maxMemory() >> 20,
                vm.totalMemory() >> 20, runs, Files.readString(Path.of("/proc/loadavg")).trim());
        System.out.println(summary("executeAndWait0 /bin/true", times[0]));
        System.out.println(summary("execute0 /bin/true", times[1]));
        System.out.println(summary("ProcessBuilder start + waitFor", times[2]));
        System.out.println(summary("ProcessBuilder start", times[3]));
        MacAuthorization.free0();
    }
}
