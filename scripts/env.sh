# Sourced by the scripts: the JDK the native libraries are built and tested
# against, and the build folders.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [[ -z "${JAVA_HOME:-}" || ! -x "${JAVA_HOME}/bin/javac" ]]; then
  for jdk in /usr/lib/jvm/java-17-openjdk-amd64 /usr/lib/jvm/java-17-openjdk-*; do
    if [[ -x "$jdk/bin/javac" ]]; then export JAVA_HOME=$jdk; break; fi
  done
fi
export PATH="$JAVA_HOME/bin:$PATH"
build="$root/build"
build_asan="$root/build-asan"
jobs=$(nproc 2>/dev/null || echo 2)
