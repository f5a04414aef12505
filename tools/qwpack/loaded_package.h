#pragma once
// A package file read whole and checked as the updater's reader checks it, and its members'
// contents.
#include <cstdint>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/package_view.h"

struct LoadedPackage {
  std::vector<std::uint8_t> bytes;
  PackageHeader header;
  std::vector<PackageEntry> entries;
};

// False with a one-line reason when the file cannot be read or does not parse as a package.
bool LoadPackage(const std::string& path, LoadedPackage* package, std::string* error);
// The same for package bytes already in memory; description names them in the reason.
bool ParsePackage(std::vector<std::uint8_t> bytes, const std::string& description,
                  LoadedPackage* package, std::string* error);

// The member's contents, checked against the package as the updater checks them.
bool ReadMember(const LoadedPackage& package, const MemberLocation& location,
                std::vector<std::uint8_t>* contents, std::string* error);

// The first member named name (as the updater finds it), or null.
const PackageEntry* FindMember(const LoadedPackage& package, const char* name,
                               MemberLocation* location);

// LoadPackage, or, when path is an updater executable, the package it carries.
bool LoadPackageOrUpdater(const std::string& path, LoadedPackage* package, std::string* error);
