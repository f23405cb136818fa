#include "app/application.h"

namespace fwl {

Application& Application::Instance() {
  static Application app;
  return app;
}

}  // namespace fwl
