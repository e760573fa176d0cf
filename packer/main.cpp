#include "packer.h"
#include "system.h"

int main(int argc, char** argv) {
  StartLayer(argc, argv);
  return RunPacker();
}
