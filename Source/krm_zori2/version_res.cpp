// Version text of the library, kept in its data so that `what` and `strings` find it.
namespace {
[[gnu::used]] const char kVersionText[] = "@(#) $Id: 5.0.1 (2012/02/24) $";
} // namespace
