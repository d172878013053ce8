package nativetest;

/** Records the alert's result ("callback" with "(IZ)V") and the thread it came on. */
public class AlertCallback {
    public int calls;
    public int index;
    public boolean suppressed;
    public String threadName;

    public void callback(int index, boolean suppressed) {
        calls++;
        this.index = index;
        this.suppressed = suppressed;
        threadName = Thread.currentThread().getName();
    }
}
