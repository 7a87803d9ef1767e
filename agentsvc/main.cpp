// agentsvc: the agent service program.
#include "service.h"

int main(int argc, char** argv) { return tgx::agent::service::Main(argc, argv); }
