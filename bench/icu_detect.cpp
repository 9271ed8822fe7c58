// Prints ICU's guess of the character set of each file named on standard
// input (one path a line) as "path<TAB>name<TAB>confidence", for
// bench/detection_eval.py. A file ICU has no answer for gets "-".
//
//   g++ -O2 bench/icu_detect.cpp -o icu_detect $(pkg-config --cflags --libs icu-i18n)

#include <unicode/ucsdet.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

int main() {
  UErrorCode status = U_ZERO_ERROR;
  UCharsetDetector* detector = ucsdet_open(&status);
  if (U_FAILURE(status)) {
    std::fprintf(stderr, "ucsdet_open: %s\n", u_errorName(status));
    return 2;
  }
  std::string path;
  while (std::getline(std::cin, path)) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    status = U_ZERO_ERROR;
    ucsdet_setText(detector, data.data(), static_cast<int32_t>(data.size()), &status);
    const UCharsetMatch* match = U_SUCCESS(status) ? ucsdet_detect(detector, &status) : nullptr;
    const char* name = match && U_SUCCESS(status) ? ucsdet_getName(match, &status) : nullptr;
    const int confidence = match && U_SUCCESS(status) ? ucsdet_getConfidence(match, &status) : 0;
    std::cout << path << '\t' << (name && U_SUCCESS(status) ? name : "-") << '\t' << confidence
              << '\n';
  }
  ucsdet_close(detector);
  return 0;
}
