#include "admin/Group.h"

Group::Group(int number) : Form(Forms, registryConstant, number) {}

Group::~Group() = default;
