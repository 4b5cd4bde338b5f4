package quelmarin.trevalon.updater;

// An updater class built without its native method: registering the native fails.
public final class OnlineUpdater {
  public static void checkForUpdates() {}
}
