#include "app/run.hpp"

int main(int argc, char** argv) {
  return app::runTool(argc, argv);
}
