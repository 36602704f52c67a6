// One node of the topic tree: a path segment, its children and the trackers
// subscribed at it. The tree is built and walked only by topic_bus.h;
// NativeMonitor holds the root (a node named "") and the lock that guards it.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <string>

class BaseTracker;

class TreeNode {
 public:
  explicit TreeNode(std::string name);

  std::string name;
  std::map<std::string, std::shared_ptr<TreeNode>> children;
  // Weak, so that a node and its children do not keep each other alive and
  // the tree is freed with the monitor.
  std::weak_ptr<TreeNode> parent;
  // In subscription order; a tracker subscribed twice is listed twice. The
  // trackers are owned by the monitor, never by the tree.
  std::list<BaseTracker*> trackers;
};
