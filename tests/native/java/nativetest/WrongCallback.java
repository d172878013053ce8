package nativetest;

/** Has a "callback", but not with a dialog's signature. */
public class WrongCallback {
    public int calls;

    public void callback(String text) {
        calls++;
    }
}
