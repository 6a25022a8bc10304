// The tests compare internal tables (the settings rules) with the C header's.
using System.Runtime.CompilerServices;

[assembly: InternalsVisibleTo("Pq640.Tests")]
