// Built only by the layer tests: each build names one header that its library must not see,
// and passes when the compiler cannot find it.
#include ORB_PROBE_HEADER
