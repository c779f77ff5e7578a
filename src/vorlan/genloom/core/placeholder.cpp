// genloom core sources live beside this file.
namespace genloom::core {}
