#include "program.h"

#include <string>

#include "gob_format.h"

void WriteBanner(std::string_view title) {
  const std::string indent(26, ' ');
  PutLine({title});
  PutLine({"Free software by the Bundra and Spillet developers"});
  PutLine({indent + "e-mail: maintainers@bundra.invalid"});
  PutLine({indent + "home page: https://bundra.invalid/"});
  PutLine();
}

void CopyData(TCheckedFile& from, TCheckedFile& to, int32_t size, uint8_t* buffer) {
  for (int32_t block = 0; block < size / TransferBlock; ++block) {
    CopyExact(from, to, buffer, TransferBlock);
  }
  const int32_t rest = size % TransferBlock;
  if (rest > 0) CopyExact(from, to, buffer, rest);
}
