// orvex-editor: the configuration editor.
#include "editor/StartUp.h"

int main(int argc, char** argv) {
  return orvex::RunEditor(argc, argv);
}
