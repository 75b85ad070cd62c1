// rastertozeru: CUPS raster to the printer's job stream.
int main() { return 0; }
