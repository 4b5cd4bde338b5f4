package quelmarin.trevalon.launchertest;

public final class Throwing {
  public static void main(String[] args) {
    throw new IllegalStateException("thrown by the test application");
  }
}
