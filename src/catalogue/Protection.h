#pragma once
// Protected entries: the keyed byte chain, the key digest and the hashed file names
// under which protected DICOM files are stored.

#include <string>
#include <string_view>

namespace tarvicon {

// The keyed chain. For data D of n bytes and key K of m > 0 bytes the result C has n bytes:
// C[j] = D[j] XOR K[j + m - n] for the last m positions (the data's end aligned with the key's
// end; when n < m only the last n key bytes are used), and C[j] = D[j] XOR C[j + m] for every
// other position, computed from the end toward the start. An empty key returns the data.
std::string ChainScramble(std::string_view data, std::string_view key);

// The inverse: D[j] = C[j] XOR C[j + m] for j < n - m, D[j] = C[j] XOR K[j + m - n] for the last
// m positions. An empty key returns the data.
std::string ChainUnscramble(std::string_view data, std::string_view key);

// The MD5 digest of the key text as 16 raw bytes (the chain key of a protected file's bytes).
std::string DigestKey(std::string_view key);

// The 32 lower-case hexadecimal characters of the MD5 digest of ChainScramble(reference, key).
std::string HashedName(std::string_view reference, std::string_view key);

// The folder of protected files: the documents folder (special folder "Personal") +
// "Melvor2/DICOM/tmp/". Raises the special folder's error when there is no documents folder.
std::string ProtectedFolder();

// The full path of the protected file of a reference:
// ProtectedFolder() + "zorvix." + HashedName(reference, key) + ".zorvix".
std::string ProtectedFileName(std::string_view reference, std::string_view key);

// The writer side (outside the viewer's own work, for tools and tests): the bytes scrambled with
// the key's digest, ChainScramble(bytes, DigestKey(key)).
std::string ProtectBytes(std::string_view bytes, std::string_view key);

// Writes ProtectBytes(bytes, key) to ProtectedFileName(reference, key), creating the folder;
// returns the path. Raises "Cannot create file "PATH". REASON" when the file cannot be written.
std::string WriteProtectedFile(std::string_view reference, std::string_view key, std::string_view bytes);

} // namespace tarvicon
