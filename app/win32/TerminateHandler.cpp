// The handler that ends the program when an exception escapes or noexcept is broken. The C++
// run-time's default one prints the exception's type by name, and its name demangler is some
// 45 KB of the .exe; a desktop program has no console to print to, so this one only aborts, as
// the default does after printing. Defining it here keeps the run-time's own out of the link.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
