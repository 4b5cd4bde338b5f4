package quelmarin.trevalon.launchertest;

public final class Hello {
  public static void main(String[] args) {
    System.out.println("Hello, world");
  }
}
