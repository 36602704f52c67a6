// The topic bus: subscriptions attach trackers to nodes of a topic tree, a
// publication walks its topic's path from the root and hands the message to the
// trackers of every node it passes.
//
// NativeMonitor keeps the tree's `root` and its `topicLock`; its operations are
// thin wrappers:
//   NativeMonitor::subscribeTopic(std::string topic, BaseTracker* tracker)
//       -> subscribeOnTree(root, topicLock, std::move(topic), tracker);
//   NativeMonitor::talkOnTopic(BaseHooker* hooker, std::string topic, _FunctionParam& param)
//       -> talkOnTree(root, topicLock, hooker, std::move(topic), param);
// `root` is read only under `topicLock`; create it (a TreeNode named "") before
// any tracker subscribes or any hooker publishes.
#pragma once

#include <memory>
#include <string>

#include "core/BaseHooker.h"
#include "core/TreeNode.h"
#include "core/WfirstRWLock.h"

class BaseTracker;

// Attaches `tracker` to the node of `topic`, creating missing nodes, under a
// write hold of `lock`. A topic that does not begin with "/" once normalised,
// a null tracker or a tree without a root is ignored.
void subscribeOnTree(const std::shared_ptr<TreeNode>& root, WfirstRWLock& lock, std::string topic,
                     BaseTracker* tracker);

// Publishes `param` under "/" + hooker's namespace + "/" + normalised `topic`:
// the trackers of the root, then of each node along that path, each node's in
// subscription order, get onMessage with the full topic, on this thread, under
// a read hold of `lock`. The walk stops where the path leaves the tree. A null
// hooker or a tree without a root delivers nothing.
void talkOnTree(const std::shared_ptr<TreeNode>& root, WfirstRWLock& lock, BaseHooker* hooker,
                std::string topic, _FunctionParam& param);
