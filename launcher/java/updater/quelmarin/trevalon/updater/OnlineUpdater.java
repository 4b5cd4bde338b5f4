package quelmarin.trevalon.updater;

/** Asks the native launcher to look for an update of the application. */
public final class OnlineUpdater {
  private OnlineUpdater() {}

  public static void checkForUpdates() {
    nCheckForUpdates();
  }

  private static native void nCheckForUpdates();
}
