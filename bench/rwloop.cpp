// The honest limit of a streaming converter: a user-space loop that reads a
// file and writes it out again in chunks of the size Ordana reads (2 MiB),
// doing nothing in between. Unlike cp or cat, which let the kernel copy
// (copy_file_range, sendfile), every byte crosses into this process and
// back, as it does for any converter.
//
// Usage: rwloop IN OUT      (exit code 0 done, 1 failure)
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: rwloop IN OUT\n");
    return 1;
  }
  const int in = open(argv[1], O_RDONLY);
  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) {
    std::perror("rwloop: open");
    return 1;
  }
  std::vector<char> buffer(2u << 20);
  for (;;) {
    const ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0) {
      std::perror("rwloop: read");
      return 1;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buffer.data() + done, static_cast<size_t>(n - done));
      if (w <= 0) {
        std::perror("rwloop: write");
        return 1;
      }
      done += w;
    }
  }
  return close(out) == 0 && close(in) == 0 ? 0 : 1;
}
