// A C++ host built against the installed libmelbax: it finds the driver
// beside the library, starts an instance without a port and declares one
// variable.
#include <iostream>

#include "melbax/instance.h"

int main() {
  std::string error;
  const auto driver = melbax::Driver::Load(melbax::DefaultDriverPath(), error);
  if (!driver) {
    std::cerr << "melbax_host: " << error << "\n";
    return 1;
  }
  std::cout << "driver " << driver->path() << "\n";
  melbax::Instance instance(driver);
  if (!instance.Start().ok()) return 1;
  melbax::Variable variable;
  const melbax::Outcome declared =
      instance.Declare("0110", melbax::DataType::kUint16, variable);
  if (!declared.ok() || variable.station() != 1 ||
      variable.paramIndex() != 0x10 || variable.gateWidth() != 2) {
    std::cerr << "melbax_host: 0110 was not declared as expected\n";
    return 1;
  }
  std::cout << "declared 0110: station " << variable.station() << ", index 0x"
            << std::hex << variable.paramIndex() << "\n";
  return 0;
}
