// The LZARI encoder is a build tool, not part of the program libraries; the tests compile it in.
#include "../../tools/lzari/lzari_encoder.cpp"
