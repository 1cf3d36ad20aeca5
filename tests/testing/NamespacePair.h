#pragma once

#include <string>

// Two network namespaces standing for two hosts, each joined by a veth pair
// to a bridge in this process's namespace: side 0 is 10.199.N.1, side 1 is
// 10.199.N.2 and this namespace 10.199.N.254 (N from the process id), so
// every pair of the three reaches the other. Needs root and the ip command;
// create() says why it cannot. The destructor removes the namespaces, the
// bridge and the links, and kills whatever still runs in the namespaces.
class NamespacePair {
  public:
    NamespacePair();
    ~NamespacePair();
    NamespacePair(const NamespacePair&) = delete;
    NamespacePair& operator=(const NamespacePair&) = delete;

    // False with the reason (not root, no ip command, the kernel refused).
    bool create(std::string& error);
    // The namespace's name under /run/netns, and its address.
    const std::string& name(int side) const { return names_[side]; }
    std::string address(int side) const;  // side 2: this namespace's
    // Takes the side's link to the bridge down or up again.
    bool setLink(int side, bool up);
    // Limits what the side sends to `kbit` per second (token bucket); 0
    // lifts the limit.
    bool limitRate(int side, int kbit);

    // Moves the calling thread into a side's namespace for its lifetime, so
    // that the processes it starts live there.
    class Inside {
      public:
        Inside(const NamespacePair& pair, int side);
        ~Inside();
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;
        bool entered() const { return entered_; }

      private:
        int home_ = -1;
        bool entered_ = false;
    };

  private:
    bool ip(const std::string& arguments, std::string* error = nullptr) const;
    std::string link(int side) const;

    int subnet_;
    std::string names_[2];
    std::string bridge_;
    bool created_ = false;
};
