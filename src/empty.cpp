// Keeps every module library non-empty while it is being filled.
namespace kavrel {}
