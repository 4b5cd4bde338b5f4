package quelmarin.trevalon.demo;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * The demo application: tells its version and arguments, and counts its starts in a file in its
 * data folder.
 */
public final class DemoApp {
  private DemoApp() {}

  public static void main(String[] args) throws IOException {
    StringBuilder out = new StringBuilder();
    out.append("Trevalon demo ").append(System.getProperty("trevalon.demo.version", "unknown"));
    out.append('\n');
    out.append("Arguments: ").append(args.length).append('\n');
    for (String arg : args) {
      out.append("  ").append(arg).append('\n');
    }
    Path folder = dataFolder();
    if (folder == null) {
      out.append("No data folder: the start is not counted.\n");
    } else {
      out.append("Data folder: ").append(folder).append('\n');
      out.append("Start number: ").append(countStart(folder)).append('\n');
    }
    System.out.write(out.toString().getBytes(StandardCharsets.UTF_8));
    System.out.flush();
  }

  /** The package's own data folder when it runs packaged, else the user's. */
  private static Path dataFolder() {
    for (String variable : new String[] {"PACKAGE_LOCALAPPDATA", "USER_LOCALAPPDATA"}) {
      String value = System.getenv(variable);
      if (value != null && !value.isEmpty()) {
        return Paths.get(value, "TrevalonDemo");
      }
    }
    return null;
  }

  private static long countStart(Path folder) throws IOException {
    Files.createDirectories(folder);
    Path counter = folder.resolve("start-count.txt");
    long starts = 0;
    if (Files.exists(counter)) {
      String text = new String(Files.readAllBytes(counter), StandardCharsets.UTF_8).trim();
      try {
        starts = Long.parseLong(text);
      } catch (NumberFormatException damaged) {
        starts = 0;
      }
    }
    starts++;
    Path next = folder.resolve("start-count.txt.new");
    Files.write(next, (starts + "\n").getBytes(StandardCharsets.UTF_8));
    Files.move(next, counter, java.nio.file.StandardCopyOption.REPLACE_EXISTING,
        java.nio.file.StandardCopyOption.ATOMIC_MOVE);
    return starts;
  }
}
