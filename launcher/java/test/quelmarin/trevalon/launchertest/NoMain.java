package quelmarin.trevalon.launchertest;

public final class NoMain {
  public static void run(String[] args) {}
}
