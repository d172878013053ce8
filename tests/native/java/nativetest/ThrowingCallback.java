package nativetest;

/** A callback that fails. */
public class ThrowingCallback {
    public int calls;

    public void callback(int index, boolean suppressed) {
        calls++;
        throw new IllegalStateException("callback refused index " + index);
    }
}
