package nativetest;

/** Records the file chooser's result ("callback" with "([Ljava/lang/String;[Z)V"). */
public class ChooserCallback {
    public int calls;
    public String[] paths;
    public boolean[] states;

    public void callback(String[] paths, boolean[] states) {
        calls++;
        this.paths = paths;
        this.states = states;
    }
}
