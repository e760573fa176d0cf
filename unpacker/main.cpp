#include "system.h"
#include "unpacker.h"

int main(int argc, char** argv) {
  StartLayer(argc, argv);
  return RunUnpacker();
}
