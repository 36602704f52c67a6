#include "core/TreeNode.h"

#include <utility>

TreeNode::TreeNode(std::string name) : name(std::move(name)) {}
