package quelmarin.trevalon.launchertest;

public final class Throwing {
  public static void main(String[] args) {
    // A character outside the BMP: the report must reach the box as UTF-8.
    throw new IllegalStateException("thrown by the test application \uD83D\uDE00");
  }
}
