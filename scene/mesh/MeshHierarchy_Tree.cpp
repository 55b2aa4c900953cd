// MeshHierarchy: the animation tree from the template's "Animation tree definition" text.
//
// The text is a list of nested <Node Name="..." Bone="..."> elements. Each becomes a tree
// node covering its bone's subtree of hierarchy nodes (cut at its parent's range); the
// tree always starts with "root", which covers the whole hierarchy. Elements are visited
// depth first, siblings in hierarchy order; a bad element is logged and skipped with its
// children.
#include <tinyxml.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Log.h"
#include "scene/mesh/MeshData.h"

namespace {

struct Pending {
    const TiXmlElement* element;
    uint32_t parent;
};

// The "Node" children of parent pushed so that the lowest hierarchy index pops first.
void PushChildren(const MeshHierarchy& h, const TiXmlElement* parent, uint32_t parentTreeNode,
                  std::vector<Pending>& stack) {
    std::vector<std::pair<int32_t, const TiXmlElement*>> children;
    for (const TiXmlElement* e = parent->FirstChildElement("Node"); e; e = e->NextSiblingElement("Node")) {
        const char* bone = e->Attribute("Bone");
        children.emplace_back(bone ? h.FindNode(NameString(bone)) : -1, e);
    }
    std::stable_sort(children.begin(), children.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& c : children) stack.push_back({c.second, parentTreeNode});
}

}  // namespace

void MeshHierarchy::ParseAnimationTreeDefinition(const char* text, const char* templateName) {
    const char* name = templateName ? templateName : "";
    treeNodes.clear();
    treeNodes.push_back({NameString("root"), 0, 0, kMeshNoTreeNode, kMeshNoTreeNode, kMeshNoTreeNode});
    if (text && *text) {
        const std::string wrapped = std::string("<Top>") + text + "</Top>";
        TiXmlDocument document;
        document.Parse(wrapped.c_str());
        if (document.Error()) {
            gLog.Error(LogCategory::Engine, "Error while parsing animation tree definition: %s. Template: %s",
                       document.ErrorDesc(), name);
        } else if (const TiXmlElement* top = document.FirstChildElement("Top")) {
            std::vector<Pending> stack;
            PushChildren(*this, top, 0, stack);
            while (!stack.empty()) {
                const Pending p = stack.back();
                stack.pop_back();
                const char* nodeName = p.element->Attribute("Name");
                const char* bone = p.element->Attribute("Bone");
                if (!nodeName)
                    gLog.Error(LogCategory::Engine,
                               "Error while parsing animation tree definition. Unnamed node detected. Template: %s",
                               name);
                if (!bone) {
                    gLog.Error(LogCategory::Engine,
                               "Error while parsing animation tree definition. Node without a bone detected. "
                               "Template: %s",
                               name);
                    continue;
                }
                if (!nodeName) continue;
                const int32_t node = FindNode(NameString(bone));
                if (node < 0) {
                    gLog.Error(LogCategory::Engine,
                               "Error while parsing animation tree definition. Bone %s not found in the hierarchy. "
                               "Template: %s",
                               bone, name);
                    continue;
                }
                const uint32_t index = uint32_t(treeNodes.size());
                treeNodes.push_back({NameString(nodeName), uint32_t(node), 0, p.parent, kMeshNoTreeNode,
                                     kMeshNoTreeNode});
                PushChildren(*this, p.element, index, stack);
            }
        }
    }
    // Link children in creation order and size every range.
    std::vector<uint32_t> lastChild(treeNodes.size(), kMeshNoTreeNode);
    treeNodes[0].nodeCount = NodeCount();
    for (uint32_t i = 1; i < treeNodes.size(); ++i) {
        MeshAnimationTreeNode& t = treeNodes[i];
        MeshAnimationTreeNode& parent = treeNodes[t.parent];
        if (lastChild[t.parent] == kMeshNoTreeNode) parent.firstChild = i;
        else treeNodes[lastChild[t.parent]].nextSibling = i;
        lastChild[t.parent] = i;
        const uint32_t parentEnd = parent.firstNode + parent.nodeCount;
        t.nodeCount = 1;
        for (;;) {
            const uint32_t next = t.firstNode + t.nodeCount;
            if (next >= parentEnd || next >= NodeCount()) break;
            const uint8_t nextParent = nodes[next].parent;
            if (nextParent == kMeshNoIndex || nextParent < t.firstNode || nextParent >= next) break;
            ++t.nodeCount;
        }
    }
}
