package quelmarin.trevalon.launchertest;

public final class ExitSeven {
  public static void main(String[] args) {
    System.exit(7);
  }
}
