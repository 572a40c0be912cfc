// The yardstick of the speed benchmark: tinyobjloader, the OBJ parser many
// users know, loading the same files, parse only. Prints one line per file:
// its seconds, vertex, normal, texture-coordinate and triangle counts, so
// the runner can check that both sides read the same mesh.
//
// Usage: tarvex_bench_tinyobj FILE.obj...

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <tiny_obj_loader.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "Usage: tarvex_bench_tinyobj FILE.obj...\n");
        return 2;
    }
    // Kept from file to file, as a converter of frames would keep its lists.
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    for (int i = 1; i < argc; ++i) {
        const std::string file = argv[i];
        const std::size_t slash = file.rfind('/');
        const std::string folder = slash == std::string::npos ? "./" : file.substr(0, slash + 1);
        std::string warn, err;
        const auto start = std::chrono::steady_clock::now();
        const bool loaded = tinyobj::LoadObj(
            &attrib, &shapes, &materials, &warn, &err, file.c_str(), folder.c_str());
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!loaded) {
            std::fprintf(stderr, "tinyobjloader failed on %s: %s\n", file.c_str(), err.c_str());
            return 1;
        }
        std::size_t triangles = 0;
        for (const tinyobj::shape_t& shape : shapes)
            triangles += shape.mesh.num_face_vertices.size();
        std::printf("%s %.6f %zu %zu %zu %zu\n", file.c_str(), seconds, attrib.vertices.size() / 3,
            attrib.normals.size() / 3, attrib.texcoords.size() / 2, triangles);
    }
    return 0;
}
