// Boost.Asio and Boost.Beast are compiled once here instead of in every translation unit.
#include <boost/asio/impl/src.hpp>
#include <boost/asio/ssl/impl/src.hpp>
#include <boost/beast/src.hpp>
