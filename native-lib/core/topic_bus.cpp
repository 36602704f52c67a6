#include "core/topic_bus.h"

#include <vector>

#include "core/BaseTracker.h"
#include "core/topic_path.h"

namespace {

TreeNode* childNamed(const TreeNode& node, const std::string& segment) {
  const auto child = node.children.find(segment);
  return child == node.children.end() ? nullptr : child->second.get();
}

void deliver(const TreeNode& node, const std::string& fullTopic, _FunctionParam& param) {
  for (BaseTracker* tracker : node.trackers) {
    tracker->onMessage(fullTopic, param);
  }
}

}  // namespace

void subscribeOnTree(const std::shared_ptr<TreeNode>& root, WfirstRWLock& lock, std::string topic,
                     BaseTracker* tracker) {
  normalizeTopic(topic);
  if (topic.find('/') != 0 || tracker == nullptr) {
    return;
  }
  std::vector<std::string> paths;
  split(topic.substr(1), paths, "/");

  UniqueWriteguard<WfirstRWLock> guard(lock);
  if (!root) {
    return;
  }
  std::shared_ptr<TreeNode> cur = root;
  for (const std::string& segment : paths) {
    auto child = cur->children.find(segment);
    if (child == cur->children.end()) {
      auto node = std::make_shared<TreeNode>(segment);
      node->parent = cur;
      child = cur->children.emplace(segment, std::move(node)).first;
    }
    cur = child->second;
  }
  cur->trackers.push_back(tracker);
}

void talkOnTree(const std::shared_ptr<TreeNode>& root, WfirstRWLock& lock, BaseHooker* hooker,
                std::string topic, _FunctionParam& param) {
  if (hooker == nullptr) {
    return;
  }
  normalizeTopic(topic);
  const std::string fullTopic = "/" + hooker->getTalkTopicNamespace() + "/" + topic;
  std::vector<std::string> paths;
  split(fullTopic, paths, "/");

  UniqueReadguard<WfirstRWLock> guard(lock);
  // paths[0] is the empty piece before the leading "/", which stands for the
  // root. Every later piece, empty or not, names a child: a message thus
  // reaches each subscriber on its path once and never leaves its namespace.
  TreeNode* cur = root.get();
  std::vector<std::string>::size_type next = 1;
  while (cur != nullptr) {
    deliver(*cur, fullTopic, param);
    cur = next < paths.size() ? childNamed(*cur, paths[next++]) : nullptr;
  }
}
